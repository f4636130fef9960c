#include "store/SchemaDeclaration.h"

#include "store/Data.h"
#include "store/Type.h"

void DeclareTypes(std::initializer_list<TypeDeclaration> i_types)
{
    for (const TypeDeclaration& l_type : i_types)
        d.NewType(l_type.name, l_type.primacy, l_type.isNull, l_type.autoCreate);
}

void DeclareRelations(std::initializer_list<RelationDeclaration> i_relations)
{
    for (const RelationDeclaration& l_relation : i_relations)
        d.GetType(l_relation.type)
            ->RelateToType(d.GetType(l_relation.related), l_relation.thisSide,
                           l_relation.otherSide, l_relation.owns);
}
